// What the devices of this bundle share: their id, their parameter string
// (the "[id]" tag and the device's own text after it) and their read side.
#pragma once

#include "outside/devicegate/devicegate.h"
#include "plugins/sdk/qorsubsystem.h"

#include <string>

class TENNICKDEVICE : public QORDEVICE {
public:
    TENNICKDEVICE(SUBSYSINITDATA const& init, int id, char const* name);

    int SetParm(char const* parm) override;
    char* QueryParm(char* buf, int max) override;
    char* QueryStdParm(char* buf) override;
    char* QueryStatus(char* buf) override;
    int NumAvail() override { return Gate.NumAvail(); }

    // Copies text into a buffer of size bytes, cut to fit.
    static void CopyCut(char* dst, int size, std::string const& text);

protected:
    // The text after the "[id]" tag of the parameter string.
    std::string Options() const;

    int Id;
    std::string Name;
    std::string Parm;
    DEVICEGATE Gate;
};
