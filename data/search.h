#pragma once

#include <QString>
#include <QVariantList>

class TADOConnection;

/// A card search: one line of statement text and the values bound to it.
struct SearchStatement {
    QString text;
    QVariantList parameters;
};

/// The search for cards whose column `field` contains `keyword` literally.
/// Raises an error when `field` names no column of the cards table.
SearchStatement buildSearchStatement(TADOConnection* connection, const QString& field,
                                     const QString& keyword);

/// `keyword` with the LIKE wildcards and the escape character escaped by "\".
QString escapeLikePattern(const QString& keyword);
