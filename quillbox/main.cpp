#include "quillbox/CommandDispatcher.h"
#include "quillbox/Commands.h"

int main(int argc, char** argv) {
    RegisterDataFactories();
    return DispatchCommand(argc, argv);
}
