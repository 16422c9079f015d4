#pragma once

// Ids of the string table in messages.rc; the resource compiler reads this
// header too, so it holds plain defines only.

#define IDS_KB2919355_REQUIRED       101
#define IDS_WARNING                  102
#define IDS_ADDON_CAPTION            103
#define IDS_ADDON_INSTALLING         104
#define IDS_ADDON_OVERWRITE          105
#define IDS_ADDON_REMOVE_FAILED      106
#define IDS_ADDON_INSTALL            107
#define IDS_ADDON_INSTALLED          108
#define IDS_ADDON_INSTALL_FAILED     109
#define IDS_SERVICE_REQUIRED         110
#define IDS_KB4490628_REQUIRED       111
#define IDS_KB4493730_REQUIRED       112
#define IDS_KB4474419_REQUIRED       113
#define IDS_VOLUME_FILTER_CONFLICT   114
