#include "velmot/gui/appfunction.h"

#include "velmot/core/logit.h"
#include "velmot/gui/winbase.h"

void APPFUNCTION::Call()
{
    if (Type < 0 || Type > MAXARGS || !Function) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
        Result = 0;
        return;
    }
    Result = Function();
}

MSGWORD APPFUNCTION::CallFrom(DARWINDOW const& window)
{
    DARWINDOW::SendMessage(window.GetWindow(), WM_APPFUNCTION, reinterpret_cast<MSGWORD>(this), 0, 0);
    return Result;
}
