// Resource identifiers of Pellfray's main dialog. Included by windres too,
// so it holds nothing but #defines.
#pragma once

#define IDD_MODULEBENCH 129
