/* Identifiers of the executable's resources other than the string table, shared by the resource
 * script and by the code. */
#ifndef VLMMRXSVC_RESOURCES_RESOURCE_IDS_H
#define VLMMRXSVC_RESOURCES_RESOURCE_IDS_H

/* The registry script of the COM application identity (type "REGISTRY"). */
#define IDR_APPID_SCRIPT 100
/* The type library: LoadTypeLib finds resource 1 of type "TYPELIB" in an executable. */
#define IDR_TYPE_LIBRARY 1
/* The event-log texts (type MESSAGETABLE): FormatMessage and the event log read resource 1. */
#define IDR_MESSAGE_TABLE 1

#endif
