// The stored description of a TQdDbf: its published properties as text in
// the form library's form-description layout, written by a designer and
// read back when a form is loaded.
//
//   object Movies: TQdDbf
//     DbfFileName = 'movie.DBF'
//     CreateIndex = ciNotFound
//     IndexList.Strings = (
//       'NAMES,F,F,UPPER(NAME)'
//       '')
//   end
//
// A property with a default is written only when it differs from it; one
// without (ReadOnly, Exclusive, HideDeletedRecs, TableLanguage, CreateIndex)
// is always written. Texts are quoted with doubled quotes; control
// characters stand outside the quotes as #<code>. Event handlers are
// function objects, not named methods, and are not part of the description.
#pragma once

#include <string>

#include "dataset/file_dataset.h"

namespace qd {

std::string WriteDbfDescription(TQdDbf& dbf);
// Sets the described properties while the component is loading; a stored
// Active = True opens the dataset once every property is read. Raises
// fw::EStreamError for a description it cannot read.
void ReadDbfDescription(TQdDbf& dbf, const std::string& text);

}  // namespace qd
