#pragma once

#include <QAccessible>
#include <QString>

class QObject;

// What screen readers and other assistive tools see of a BeaconEdit: an
// editable text whose offsets count the lines joined by LF. For
// QAccessible::installFactory().
QAccessibleInterface *accessibleBeaconEdit(const QString &className, QObject *object);
