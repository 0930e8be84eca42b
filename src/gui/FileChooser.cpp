#include "gui/FileChooser.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

QHBoxLayout* FileChooserRow(QLineEdit* box, const QString& dialogTitle, const QString& filter) {
    auto* browse = new QToolButton(box->parentWidget());
    browse->setText(QStringLiteral("…"));
    QObject::connect(browse, &QToolButton::clicked, box, [box, dialogTitle, filter] {
        const QString chosen =
            QFileDialog::getOpenFileName(box->window(), dialogTitle, box->text(), filter);
        if (!chosen.isEmpty()) {
            box->setText(chosen);
        }
    });
    auto* row = new QHBoxLayout;
    row->addWidget(box);
    row->addWidget(browse);
    return row;
}
