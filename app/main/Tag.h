#pragma once
// The integer every control and menu carries; shared handlers tell their senders apart by it.

#include <QObject>
#include <QVariant>
#include <type_traits>

inline int TagOf(const QObject* sender) { return sender ? sender->property("Tag").toInt() : 0; }
inline void SetTag(QObject* object, int tag) { object->setProperty("Tag", tag); }

// The same for a control whose tags are named by an enumeration.
template <class E>
    requires std::is_enum_v<E>
void SetTag(QObject* object, E tag)
{
    SetTag(object, static_cast<int>(tag));
}
template <class E>
    requires std::is_enum_v<E>
E TagAs(const QObject* sender)
{
    return static_cast<E>(TagOf(sender));
}
