/* The string table: identifiers and texts, shared by the resource script and by the code.
 * The texts are narrow literals so that the resource compiler reads them; code takes them wide as
 * L"" STR_..., and at run time loads them from the executable's string table by identifier. */
#ifndef VLMMRXSVC_RESOURCES_STRING_TABLE_H
#define VLMMRXSVC_RESOURCES_STRING_TABLE_H

#define IDS_PROCESS_EXCLUSION_KEY 107
#define IDS_SERVICE_KEY 108
#define IDS_UNKNOWN_NAME 110
#define IDS_SWITCH_REGSERVER 111
#define IDS_SWITCH_UNREGSERVER 112
#define IDS_SWITCH_CHARACTERS 113
#define IDS_SWITCH_SERVICE 114
#define IDS_COMPONENT_EXCLUSION_KEY 115
#define IDS_DECIMAL_FORMAT 120
#define IDS_IMPERSONATE_SELF_FAILED 124
#define IDS_OPEN_TOKEN_FAILED 126
#define IDS_IDLE_REPORT 127
#define IDS_SERVICE_DESCRIPTION 139
#define IDS_SERVICE_NAME 140

#define STR_PROCESS_EXCLUSION_KEY "SOFTWARE\\Velmora\\MRX\\ProcessExclusionList"
#define STR_SERVICE_KEY "SOFTWARE\\Velmora\\MRX"
#define STR_UNKNOWN_NAME "?"
#define STR_SWITCH_REGSERVER "RegServer"
#define STR_SWITCH_UNREGSERVER "UnRegServer"
#define STR_SWITCH_CHARACTERS "-/"
#define STR_SWITCH_SERVICE "Service"
#define STR_COMPONENT_EXCLUSION_KEY "SOFTWARE\\Velmora\\MRX\\ComponentExclusionList"
#define STR_DECIMAL_FORMAT "%d"
/* Deliberately empty: the failure of ImpersonateSelf is reported with an empty message. */
#define STR_IMPERSONATE_SELF_FAILED ""
#define STR_OPEN_TOKEN_FAILED "Unable to open process token for %s. Last Error = %d"
#define STR_IDLE_REPORT "System resources are over %d percent. The Velmora Virtual Memory Optimization service will remain idle for %d minutes."
#define STR_SERVICE_DESCRIPTION "Dynamically optimizes applications executing on this machine"
#define STR_SERVICE_NAME "Velmora 64-bit Virtual Memory Optimization"

#endif
