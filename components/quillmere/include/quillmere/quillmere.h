// The data-access manager "Quillmere.QuillMain": tells each entity's connection from
// quillmereconfig.ini.
#pragma once

namespace quillmere {

// Adds "Quillmere.QuillMain" to the component registry.
void Register();

}  // namespace quillmere
