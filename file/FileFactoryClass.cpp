#include "file/FileFactoryClass.h"

FileFactoryClass* ActiveFileFactory = nullptr;
