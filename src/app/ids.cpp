#include "app/ids.h"

#include <QByteArray>
#include <QMetaObject>

std::string ids::description() const {
    const QObject* held = object_.data();
    if (!held) return "(null)";
    const QByteArray name = held->objectName().toUtf8();
    return std::string(held->metaObject()->className()) + "(" + name.toStdString() + ")";
}
