#include "serial/win32/port_change_win32.h"

#include <dbt.h>

#include "serial/port_names.h"

PortChange PortChangeOf(WPARAM event, LPARAM record, std::string *name)
{
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return PortChange::None;
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(record);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_PORT)
        return PortChange::None;
    // The name follows the header, narrow or wide depending on how the
    // window was registered; a wide "COM5" has a zero second byte.
    const size_t offset = offsetof(DEV_BROADCAST_PORT_A, dbcp_name);
    if (header->dbch_size <= offset || header->dbch_size > 4096)
        return PortChange::None;
    const size_t room = header->dbch_size - offset;
    const char *bytes = reinterpret_cast<const char *>(header) + offset;
    std::string text;
    const bool wide = room >= 2 && bytes[0] != '\0' && bytes[1] == '\0';
    for (size_t i = 0; i + (wide ? 1 : 0) < room && text.size() < 64; i += wide ? 2 : 1) {
        if (bytes[i] == '\0' && (!wide || bytes[i + 1] == '\0'))
            break;
        if (wide && bytes[i + 1] != '\0')
            return PortChange::None; // not a port name Windows gives
        text.push_back(bytes[i]);
    }
    if (ComPortNumberOf(text, UINT32_MAX) == 0)
        return PortChange::None;
    *name = CanonicalPortName(text);
    return event == DBT_DEVICEARRIVAL ? PortChange::Arrived : PortChange::Removed;
}
