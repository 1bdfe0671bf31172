// Translated texts: every word the windows show goes through the catalogue with its English
// text as the key.
#pragma once

#include <glib/gi18n.h>
