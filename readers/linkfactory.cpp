#include "readers/linkfactory.h"

#include "readers/feiglink.h"
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
