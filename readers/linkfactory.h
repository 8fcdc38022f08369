#pragma once

#include "readers/readerlink.h"

#include <QVector>
#include <memory>

class FeusbApi;
class HidBackend;

/// The one place that knows which link class speaks to which reader. It holds the
/// transports the links run over (borrowed; they must outlive every link made).
class LinkFactory
{
  public:
    LinkFactory(HidBackend* hid, FeusbApi* feusb) : m_hid(hid), m_feusb(feusb) {}

    /// A link for `reader`, not yet opened; null for no reader. With an identity the link
    /// opens that reader only, without one the first of its kind that no one else holds.
    std::unique_ptr<ReaderLink> make(const ReaderChoice& reader) const;
    /// The readers present now, each once with its identity: the R321s first, then the
    /// FEIG readers the library's scan list names.
    QVector<ReaderChoice> present() const;
    /// The reader present with `identity` (any case); type None when none has it.
    ReaderChoice find(const QString& identity) const;

  private:
    HidBackend* const m_hid;
    FeusbApi* const m_feusb;
};
