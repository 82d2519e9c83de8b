#pragma once
// Resources built into the programs (firmware image, skin images), found by type and name
// without regard to case: ":/<TYPE>/<NAME>".

#include <QByteArray>
#include <QString>
#include <optional>

std::optional<QByteArray> LoadEmbeddedResource(const QString& type, const QString& name);
