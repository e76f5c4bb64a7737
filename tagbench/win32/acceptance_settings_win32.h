// The batch check's criteria, remembered per Windows user under
// HKEY_CURRENT_USER\Software\RfidBench\Tarnwick as four DWORDs:
// AcceptMinSignal (dB, as a signed 32-bit number), AcceptMinReports, and
// AcceptUnderVoltageFails and AcceptOfflineFails (1 on, 0 off). A value
// that is missing, of another type or out of its range gives its default,
// without a message; a value that cannot be stored is simply not
// remembered. GUI thread.
#pragma once

#include "tagbench/acceptance.h"

AcceptanceCriteria LoadAcceptanceCriteria();
void SaveAcceptanceCriteria(const AcceptanceCriteria &criteria);
