// The driver's release: its DLL version text, the product version it registers under and the
// version in its package's name.
#pragma once

#define ORVEX_PRODUCT_VERSION "27.03.26"
