// The data-access manager "Quillmere.QuillMain": tells each entity's connection from
// quillmereconfig.ini.
//
// The file has one section per entity, named exactly as the entity (letter case counts),
// with the keys Tag (SQLITE, POSTGRESQL, ODBC or ACCESS, exact) and Connection; key names
// ignore letter case. A line starting with ';' or '#' is a comment; a value is taken
// whole, ';' and all, as connection strings need. A section header stands alone on its
// line (a comment may follow it). Lines end at CR LF, LF or CR and may be of any length.
//
//   setParametersPath = path         property put; "\" counts as a separator
//   LoadParameters                   reads the file; a malformed line, a key outside a
//                                    section, an unknown or repeated key, or a section
//                                    named twice fails it with the line number
//   getDataConnectionTAG(entity)     the entity's Tag as written; fails for an entity
//                                    without a section or without Tag
//   getDataConnectionByEntity(entity)  an object whose GetAssemblyConnection opens and
//                                    returns a new ado::Connection at each call; fails
//                                    for a missing Connection or an unknown tag
//
// Every error is in Spanish and names the file, line, entity or tag it is about; none
// shows a password.
#pragma once

#include "platform/automation/object.h"

namespace quillmere {

inline constexpr const char* kProgId = "Quillmere.QuillMain";

// Adds "Quillmere.QuillMain" to the component registry.
void Register();

// A new manager, as CreateObject(kProgId) makes it; for classes that wrap the real one.
vandrel::automation::ObjectPtr Create();

}  // namespace quillmere
