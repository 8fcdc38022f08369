#include "readers/linkfactory.h"

#include "readers/feiglink.h"
#include "readers/feigworker.h"
#include "readers/myhid.h"
#include "readers/r321link.h"

std::unique_ptr<ReaderLink> LinkFactory::make(const ReaderChoice& reader) const
{
    switch (reader.type) {
    case ReaderType::R321:
        return std::make_unique<R321Link>(reader, m_hid);
    case ReaderType::Feig:
        return std::make_unique<FeigLink>(reader, m_feusb);
    case ReaderType::None:
        break;
    }
    return nullptr;
}

QVector<ReaderChoice> LinkFactory::present() const
{
    QVector<ReaderChoice> found;
    if (m_hid) {
        for (const HidInterfaceInfo& info : m_hid->enumerate()) {
            const ReaderChoice r321{ReaderType::R321, myhid::identityOf(info)};
            if (info.vendorId == myhid::R321VendorId && !found.contains(r321))
                found << r321;
        }
    }
    for (const QString& id : writeThreadFEIG1::deviceIds(m_feusb))
        found << ReaderChoice{ReaderType::Feig, id};
    return found;
}

ReaderChoice LinkFactory::find(const QString& identity) const
{
    for (const ReaderChoice& r : present())
        if (r.identity.compare(identity, Qt::CaseInsensitive) == 0)
            return r;
    return {};
}
