#pragma once

class HidBackend;
class FeusbApi;

/// The transports behind the two reader links. Null members mean "use the real one"
/// (hidapi and the FEUSB library), which the window then creates and owns; non-null
/// members are borrowed and must outlive the window.
struct ReaderBackends {
    HidBackend* hid = nullptr;
    FeusbApi* feusb = nullptr;
    bool simulated = false;
};
