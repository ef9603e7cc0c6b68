#include "StoreDump.h"

#include <algorithm>
#include <vector>

#include "Data.h"

QStringList StoreDump::Relative()
{
    std::vector<quint64> order;
    for (Type* type : d.GetTypes())
        for (const ItemPtr& item : type->GetItems())
            order.push_back(item.Sequence());
    std::sort(order.begin(), order.end());
    auto place = [&](quint64 sequence) {
        return QString::number(std::lower_bound(order.begin(), order.end(), sequence) - order.begin());
    };
    QStringList out;
    for (Type* type : d.GetTypes()) {
        for (const ItemPtr& item : type->GetItems()) {
            QStringList links;
            for (const ConnectionGroup& group : item.GetItemPointer()->m_groups)
                group.ForEach([&](Item* other) { links << place(other->m_sequence); });
            links.sort();
            out << QString("%1 #%2 [%3] -> %4")
                       .arg(QString::fromStdString(type->GetName()), place(item.Sequence()), item.AsString(),
                            links.join(','));
        }
    }
    return out;
}
