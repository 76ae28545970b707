#pragma once
// The program's font: "ＭＳ ゴシック", else IPAGothic, 13 pixels.

class QWidget;

void ApplyProgramFont(QWidget *w);
