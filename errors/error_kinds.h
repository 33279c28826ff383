// Error kinds shared by several units. Kinds used by one class only are
// members of that class; kinds used by one unit only are local to it.
#pragma once

#include "errors/error_model.h"

namespace ovrin {

OVRIN_DEFINE_TAG(MissingOptionError, "MissingOptionError", "Missing option %1%")
OVRIN_DEFINE_TAG(UnexpectedValueError, "UnexpectedValueError", "'%1%' has unexpected value '%2%'")
// The format holds no placeholder; the detail fed at a raise site is appended.
OVRIN_DEFINE_TAG(XmlWriterError, "XmlWriterError", "Xml writer error:")
OVRIN_DEFINE_TAG(UrleDecomposingError, "UrleDecomposingError", "Unable to decompose urls: %1%")
OVRIN_DEFINE_TAG(UnableToCreateSession, "UnableToCreateSession", "Unable to create session: %1%")
OVRIN_DEFINE_TAG(CantCreateTempFile, "CantCreateTempFile",
                 "Can not create temporary file with the template '%1%': %2%.")
OVRIN_DEFINE_TAG(CantCreateTempDir, "CantCreateTempDir",
                 "Can not create temporary dir with the template '%1%': %2%.")
OVRIN_DEFINE_TAG(InvalidHandle, "InvalidHandle", "Invalid handle passed")

}  // namespace ovrin
