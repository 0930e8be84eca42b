#pragma once

#include <QString>

class QHBoxLayout;
class QLineEdit;

// A file name box with a "…" button beside it that opens a file dialog on the box's name and puts
// the chosen file into the box: one row of a settings form.
inline const QString CertificateFileFilter =
    QStringLiteral("証明書 (*.pem *.crt *.cer);;すべてのファイル (*)");

QHBoxLayout* FileChooserRow(QLineEdit* box, const QString& dialogTitle, const QString& filter);
