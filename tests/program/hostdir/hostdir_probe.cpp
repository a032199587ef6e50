// The second instance of the two-process host-directory tests.
//
//   hostdir_probe <file> <name>
//     loads the host directory, adds an entry of that name, saves it and
//     exits 0 (1 when the save failed).
#include "tests/program/hostdir/hostdirtest.h"

#include "velmot/core/workdir.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    std::string const file = argv[1];
    WORKDIR::SetCurrent(file.substr(0, file.rfind('/')).c_str());
    hostdirtest::FAKEHOST host;
    PHONEBOOK book(host);
    book.InitPhonebook(file.c_str(), 100);
    _PHONEBOOK_300 e;
    PHONEBOOK::PrepareEntry(&e);
    for (size_t i = 0; i < 64 && argv[2][i]; ++i)
        e.name[i] = static_cast<unsigned char>(argv[2][i]);
    book.Table().StoreAsNew(&e);
    return book.Save() == 0 ? 0 : 1;
}
