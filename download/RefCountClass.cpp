#include "download/RefCountClass.h"

void RefCountClass::Delete() { delete this; }

void RefCountClass::Release() {
    if (--refCount == 0) {
        Delete();
    }
}
