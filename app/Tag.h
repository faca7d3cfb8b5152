#pragma once
// The integer every control and menu carries; shared handlers tell their senders apart by it.

#include <QObject>
#include <QVariant>

inline int TagOf(const QObject* sender) { return sender ? sender->property("Tag").toInt() : 0; }
inline void SetTag(QObject* object, int tag) { object->setProperty("Tag", tag); }
