// Resource identifiers of the add-in library (HvOut). Strings, dialogs, bitmaps and controls
// use their own identifier spaces, so the same number may name a string and a dialog.
#pragma once

#include "common/Version.h"

// The identifiers of the layers below (dialogs, images and strings), which every library
// linking them defines in its resources.
#include "ui/UiRes.h"

// Strings
#define IDS_MIXED_SELECTION 26011
#define IDS_OFFLINE 26051
#define IDS_NO_SUBJECT 26055
#define IDS_BAR_NAME 26061
#define IDS_ADD_TO_HV 26062
#define IDS_SYNC_WITH_HV 26063
#define IDS_OFFLINE_OR_BUSY 26067

// Raw data
#define IDR_BUTTON_IMAGE 26020

// Ribbon markup (string table), the registry script and the type library
#define IDS_RIBBON_MAIL_READ 26065
#define IDS_RIBBON_EXPLORER 26066
#define IDS_RIBBON_TASK 26068
#define IDS_RIBBON_APPOINTMENT 26069
#define IDR_HVOUT_REGISTRY 26002
#define IDR_HVOUT_TYPELIB 1

// Command-bar buttons: face and mask of "Add to HV" and "Sync with HV" are in ui/UiRes.h
