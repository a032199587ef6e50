// The process-wide folders the settings live in: the work (data) folder
// behind "%QORFILES%", the program folder behind "%QOR%" and the resource
// folder of the installation.
//
// They stand in for the application's work-folder support, which takes
// them over when it lands; until then they are plain process-wide values.
// Any thread may read and set them.
#pragma once

#include "velmot/core/strings.h"

// The work folder; empty until someone sets it (the command line, or
// PROGRAMSETTINGS::LoadAdminOpts).
STRING SettingsWorkPath();
void SetSettingsWorkPath(char const* path);

// The program folder: by default the stage's "bin" folder.
STRING SettingsHomePath();
void SetSettingsHomePath(char const* path);

// The installation's resource folder: by default the stage's Resources
// folder. An empty or null path restores the default.
STRING SettingsResourcePath();
void SetSettingsResourcePath(char const* path);
