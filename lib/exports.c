/* SPDX-License-Identifier: BSD-3-Clause */
/* libtrelmo.so is made of the static library's objects, taken whole; this file only checks that the
 * public header is plain C. */
#include "trelmo/trelmo.h"
