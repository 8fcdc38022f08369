#include "engine/autoscan.h"

#include <algorithm>

namespace autoscan
{

bool anyNonZero(const uint8_t* bytes, int size)
{
    if (!bytes)
        return false;
    return std::any_of(bytes, bytes + std::max(0, size), [](uint8_t b) { return b != 0; });
}

bool differ(const uint8_t* a, const uint8_t* b, int size)
{
    if (size <= 0 || !a || !b)
        return false;
    return !std::equal(a, a + size, b);
}

void HandledTags::add(const QByteArray& uid)
{
    if (uid.isEmpty() || !anyNonZero(reinterpret_cast<const uint8_t*>(uid.constData()), uid.size()))
        return;
    if (!m_uids.contains(uid))
        m_uids.append(uid);
}

bool HandledTags::contains(const QByteArray& uid) const
{
    return m_uids.contains(uid);
}

void HandledTags::clear()
{
    m_uids.clear();
}

int HandledTags::takeInventory(const QVector<QByteArray>& inventory)
{
    m_uids.erase(std::remove_if(m_uids.begin(), m_uids.end(),
                                [&](const QByteArray& uid) { return !inventory.contains(uid); }),
                 m_uids.end());
    return nextPending(inventory, 0);
}

int HandledTags::nextPending(const QVector<QByteArray>& inventory, int from) const
{
    for (int i = std::max(0, from); i < inventory.size(); ++i) {
        if (!m_uids.contains(inventory.at(i)))
            return i;
    }
    return inventory.size();
}

} // namespace autoscan
