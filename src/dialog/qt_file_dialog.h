// The platform file dialog on Qt: QFileDialog behind the dialog record.
#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;

#include "dialog/common_dialog.h"

namespace skov {

// The platform's filter list (description NUL pattern NUL ... NUL) as Qt
// name filters, "Description (patterns)". "*.*" becomes "*" so that names
// without a dot are listed too; ";" between patterns becomes a space.
QStringList QtNameFilters(const Text& platformFilter);

// QApplication::activeWindow() as a 32-bit handle, 0 when there is none.
int32_t ActiveWindowHandle();

// The dialog set up from the record: title, folder, Open/Save, existing-file
// mode for kOfnFileMustExist (several files with kOfnAllowMultiSelect),
// filters with the record's index selected, default suffix, initial name.
void SetUpQtFileDialog(QFileDialog& dialog, const OpenFileName& record, bool open);

// What an accepted dialog answers; cancel for any other result.
PlatformDialogAnswer AnswerOf(const QFileDialog& dialog, int result, int32_t flags);

// A modal QFileDialog owned by the top-level widget whose handle is
// hwndOwner (none when no widget has it).
class QtFileDialog : public PlatformFileDialog {
 public:
  PlatformDialogAnswer Show(const OpenFileName& record, bool open) override;
  int32_t ActiveWindow() override { return ActiveWindowHandle(); }
};

}  // namespace skov
