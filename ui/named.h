#pragma once
// Widgets are found by their object names: the accessibility tests and the widget tests look
// controls up that way, so every window names them as it makes them.

#include <QObject>

template <class T> T *Named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}
