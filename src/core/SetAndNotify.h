#pragma once

#include <QObject>

#include <utility>

// Stores the value and emits the property's NOTIFY signal only when the value really changed,
// so observers never redraw or re-log for nothing. Returns whether it changed.
template<typename Object, typename Field, typename Value, typename Signal>
bool setAndNotify(Object *object, Field &field, Value &&value, Signal signal)
{
    if (field == value)
        return false;
    field = std::forward<Value>(value);
    Q_EMIT(object->*signal)();
    return true;
}
