#pragma once

#include "foundation/SimpleVecClass.h"

// A list of observers that it does not own. Notifications run over a copy of
// the list, so an observer may attach or detach observers inside a callback.
template <class T>
class Observee {
public:
    void AddObserver(T* observer) { observers.Add(observer); }
    // Removes the first equal entry; nothing happens when it is absent.
    void RemoveObserver(T* observer) { observers.Delete(observer); }
    int GetObserverCount() const { return observers.Count(); }

protected:
    // Calls notify(observer) for every observer in list order.
    template <class Notify>
    void NotifyObservers(Notify notify) {
        SimpleDynVecClass<T*> copy;
        copy.Resize(observers.Count());
        for (int index = 0; index < observers.Count(); ++index) {
            copy.Add(observers[index]);
        }
        for (int index = 0; index < copy.Count(); ++index) {
            notify(copy[index]);
        }
    }

    SimpleDynVecClass<T*> observers;
};
