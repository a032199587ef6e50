// The program qor: the library's entry prepares the process and calls the
// program's own main function.
#include "program/shell/qor.h"

#include "velmot/core/tarvo.h"

int main(int argc, char** argv)
{
    return VelmotEntryPoint(argc, argv, AppMain);
}
