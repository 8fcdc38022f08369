#pragma once

#include "readers/readerlink.h"

#include <memory>

class FeusbApi;
class HidBackend;

/// The one place that knows which link class speaks to which reader. It holds the
/// transports the links run over (borrowed; they must outlive every link made).
class LinkFactory
{
  public:
    LinkFactory(HidBackend* hid, FeusbApi* feusb) : m_hid(hid), m_feusb(feusb) {}

    /// A link for `reader`, not yet opened; null for no reader. The identity is not looked
    /// at yet: each link opens the first reader of its kind.
    std::unique_ptr<ReaderLink> make(const ReaderChoice& reader) const;

  private:
    HidBackend* const m_hid;
    FeusbApi* const m_feusb;
};
