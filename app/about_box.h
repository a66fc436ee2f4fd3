// The about box: the program's name and version, and the build
// information list.
#pragma once

#include "app/build_info.h"

#include <QDialog>

class AboutBox : public QDialog {
    Q_OBJECT
  public:
    AboutBox(const SystemFacts& facts, QWidget* parent = nullptr);
};
