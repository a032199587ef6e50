// The process-wide folders of the installation the settings read: the
// program folder behind "%QOR%" and the resource folder. The work (data)
// folder behind "%QORFILES%" is the work folder's (velmot/core/workdir.h:
// WORKDIR::GetCurrent, set by the command line or
// PROGRAMSETTINGS::LoadAdminOpts). Any thread may read and set them.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/workdir.h"

// The program folder: by default the stage's "bin" folder.
STRING SettingsHomePath();
void SetSettingsHomePath(char const* path);

// The installation's resource folder: by default the stage's Resources
// folder. An empty or null path restores the default.
STRING SettingsResourcePath();
void SetSettingsResourcePath(char const* path);
