// QFileDialog as the platform's Open/Save dialog.
#include "dialog/qt_file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QWidget>

#include "strings/fields.h"

namespace skov {
namespace {

QString Q(const Text& t) { return QString::fromStdU16String(t); }

int32_t Handle(QWidget* w) { return static_cast<int32_t>(static_cast<uint32_t>(w->winId())); }

QWidget* WindowWithHandle(int32_t handle) {
  if (handle == 0) return nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    // Asking a hidden widget for its handle would create a native window.
    if (w->isVisible() && Handle(w) == handle) return w;
  }
  return nullptr;
}

// Qt reads the patterns out of the last parentheses of a filter, so a
// description that names its patterns itself gets them replaced.
QString Description(QString text) {
  text = text.trimmed();
  const qsizetype open = text.lastIndexOf(u'(');
  if (text.endsWith(u')') && open >= 0) text = text.left(open).trimmed();
  return text;
}

QString Patterns(const QString& platform) {
  QStringList out;
  for (const QString& p : platform.split(u';', Qt::SkipEmptyParts)) {
    const QString pattern = p.trimmed();
    if (pattern.isEmpty()) continue;
    out << (pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern);
  }
  if (out.isEmpty()) out << QStringLiteral("*");
  return out.join(u' ');
}

}  // namespace

QStringList QtNameFilters(const Text& platformFilter) {
  const QStringList parts = Q(platformFilter).split(QChar(u'\0'));
  QStringList filters;
  // Pairs until the empty text that ends the list.
  for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty(); i += 2) {
    const QString description = Description(parts[i]);
    const QString patterns = Patterns(parts[i + 1]);
    filters << (description.isEmpty() ? patterns : description + QStringLiteral(" (") + patterns + u')');
  }
  return filters;
}

int32_t ActiveWindowHandle() {
  QWidget* active = QApplication::activeWindow();
  return active ? Handle(active) : 0;
}

void SetUpQtFileDialog(QFileDialog& dialog, const OpenFileName& record, bool open) {
  dialog.setWindowTitle(Q(record.lpstrTitle.value_or(Text())));
  dialog.setDirectory(Q(record.lpstrInitialDir.value_or(Text())));
  dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  const bool multi = record.Flags & kOfnAllowMultiSelect;
  if (record.Flags & kOfnFileMustExist) {
    dialog.setFileMode(multi ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  } else {
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  const QStringList filters = QtNameFilters(record.lpstrFilter.value_or(Text()));
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = record.nFilterIndex;
    dialog.selectNameFilter(filters[index >= 1 && index <= filters.size() ? index - 1 : 0]);
  }
  if (record.lpstrDefExt && !record.lpstrDefExt->empty()) dialog.setDefaultSuffix(Q(*record.lpstrDefExt));
  const Text initialName = TrimNull(record.lpstrFile.value_or(Text()));
  if (!initialName.empty()) dialog.selectFile(Q(initialName));
}

PlatformDialogAnswer AnswerOf(const QFileDialog& dialog, int result, int32_t flags) {
  PlatformDialogAnswer answer;
  if (result != QDialog::Accepted) return answer;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return answer;
  if (chosen.size() == 1) {
    answer.path = chosen.front().toStdU16String();
  } else {
    // Several files: the folder, then each name, NUL-separated.
    answer.path = dialog.directory().absolutePath().toStdU16String();
    for (const QString& file : chosen) answer.path += u'\0' + QFileInfo(file).fileName().toStdU16String();
  }
  answer.ok = true;
  answer.flags = flags;
  return answer;
}

PlatformDialogAnswer QtFileDialog::Show(const OpenFileName& record, bool open) {
  QFileDialog dialog(WindowWithHandle(record.hwndOwner));
  SetUpQtFileDialog(dialog, record, open);
  const int result = dialog.exec();
  return AnswerOf(dialog, result, record.Flags);
}

}  // namespace skov
