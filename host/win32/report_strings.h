// Identifiers of the runtime's resource strings in the executable's string
// table. Shared by the host, which loads them, and the resource script,
// which defines them, so the two cannot drift apart. Plain macros: the
// resource compiler reads this file too.
#pragma once

#define MERLAVOX_IDS_REPORT_FORMAT 65488
#define MERLAVOX_IDS_REPORT_TITLE 65489
