// A holder of one interface-side object for debug statements: copies share the
// object, an object deleted meanwhile reads as none, and description() names
// it as text.
#pragma once

#include <QObject>
#include <QPointer>
#include <string>

class ids {
public:
    ids() = default;
    ids(QObject* object) : object_(object) {}  // NOLINT: a holder stands in for its object

    QObject* object() const { return object_.data(); }

    // "ClassName(objectName)" in UTF-8, or "(null)" when nothing is held.
    std::string description() const;

private:
    QPointer<QObject> object_;
};
