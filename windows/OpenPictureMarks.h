#pragma once
// The image list's mark on a picture someone has open now: a badge with how many people
// in the name column, and their names in its tool tip. The cells' texts stay as they are.

#include "core/presence/PresenceRoster.h"

class QTableWidget;

// Marks each row of the grid (column 0 the picture's number) by the roster; a roster that
// could not be read marks nothing.
void ShowOpenPictureMarks(QTableWidget *grid, const PresenceRoster &roster);
// The mark's tool tip on a grid row (header as row 0); empty when it is not marked.
QString OpenPictureMark(const QTableWidget *grid, int gridRow);
// "…が削除出来ませんでした。" with who has the picture open, when anyone has.
QString WithHolders(const QString &message, const PresenceRoster &roster, qint64 imageNo);
