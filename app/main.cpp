#include <QApplication>
#include <QMessageBox>

// Placeholder until the wizard window lands.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, "versionup", "The wizard window is not built yet.");
    return 0;
}
