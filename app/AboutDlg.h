#pragma once
// The about box: program name, version and the legal line.

#include <QDialog>

namespace torvane {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace torvane
