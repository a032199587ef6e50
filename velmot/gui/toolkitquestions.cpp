#include "velmot/gui/toolkitquestions.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"

namespace {

STRING NoFolderDialog(plat::WindowRef, char const* title, char const*)
{
    LOGIT("ToolkitQuestions: no folder dialog to ask \"%s\"; cancelled\n", title ? title : "");
    return STRING("");
}

STRING NoSaveDialog(plat::WindowRef, char const* title, char const*, char const*)
{
    LOGIT("ToolkitQuestions: no file dialog to ask \"%s\"; cancelled\n", title ? title : "");
    return STRING("");
}

bool AlertYesNo(plat::WindowRef owner, char const* title, char const* text)
{
    bool const german = TARVOAPP::IsLocaleGerman();
    ALERTPARAMS params;
    params.defaultText = german ? "Ja" : "Yes";
    params.cancelText = german ? "Nein" : "No";
    return DARWINDOW::GenericAlert(owner, title, text, ALERTTYPE_CAUTION, &params) == ALERTBUTTON_DEFAULT;
}

void AlertNote(plat::WindowRef owner, char const* title, char const* text)
{
    ALERTPARAMS params;
    params.defaultText = ALERTTEXT_OK();
    DARWINDOW::GenericAlert(owner, title, text, ALERTTYPE_NOTE, &params);
}

int NoHelpTopic(char const* topic)
{
    LOGIT("ToolkitQuestions: no help book for \"%s\"\n", topic ? topic : "");
    return 0;
}

bool NoHelpOfView(CONTROLPARENT)
{
    return false;
}

TOOLKITQUESTIONS Completed(TOOLKITQUESTIONS q)
{
    if (!q.AskFolder)
        q.AskFolder = &NoFolderDialog;
    if (!q.AskSaveAsFilename)
        q.AskSaveAsFilename = &NoSaveDialog;
    if (!q.YesNo)
        q.YesNo = &AlertYesNo;
    if (!q.Note)
        q.Note = &AlertNote;
    if (!q.HelpTopic)
        q.HelpTopic = &NoHelpTopic;
    if (!q.HelpOfView)
        q.HelpOfView = &NoHelpOfView;
    return q;
}

TOOLKITQUESTIONS& Table()
{
    static TOOLKITQUESTIONS table = Completed(TOOLKITQUESTIONS{});
    return table;
}

} // namespace

TOOLKITQUESTIONS const& ToolkitQuestions()
{
    return Table();
}

TOOLKITQUESTIONS SetToolkitQuestions(TOOLKITQUESTIONS const& questions)
{
    TOOLKITQUESTIONS const before = Table();
    Table() = Completed(questions);
    return before;
}
