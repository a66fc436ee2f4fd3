// The image file chooser that the batch input dialog and the image list
// editor's "A&dd..." embed: Qt's own (non-native) file dialog as a widget,
// several files at a time, with the program's readable formats as filters,
// plus what "Select &All" needs from it.
#pragma once

#include <QFileDialog>
#include <QString>

#include <string>
#include <vector>

class ImageChooser : public QFileDialog {
    Q_OBJECT
  public:
    // A folder that does not exist starts in the home folder; an out-of-range
    // filterIndex takes the first filter.
    ImageChooser(const QString& acceptText, const QString& rejectText, int filterIndex,
                 const QString& folder, QWidget* parent = nullptr);

    int filterIndex() const;
    // The "Select &All" pattern: the one name or pattern typed, else the
    // chosen filter's extension.
    std::string selectAllPattern() const;

  private:
    std::vector<std::string> extensions_;
};
