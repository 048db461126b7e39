#pragma once

#include "common/Language.h"

namespace vellumar::ui::text {

// Texts of the window program that belong to no engine subsystem, in Russian and English.

inline constexpr MessageText kProgramName{"Vellumar", "Vellumar"};
inline constexpr MessageText kCannotCreateWindow{"Нельзя создать Vellumar",
                                                 "Cannot create Vellumar"};
inline constexpr MessageText kCannotCreateIdWindow{"Нельзя создать диалог идентификаторов!",
                                                   "Cannot create the identifiers dialog!"};
inline constexpr MessageText kCannotCreateHistory{"Нельзя создать диалог истории ввода!",
                                                  "Cannot create the input history dialog!"};
inline constexpr MessageText kCannotSaveDisplay{"Нельзя открыть файл для сохранения табло!",
                                                "Cannot open the file to save the display!"};
inline constexpr MessageText kClearHistoryQuestion{"История ввода будет потеряна, продолжить?",
                                                   "The input history will be lost, continue?"};
inline constexpr MessageText kSessionHeader{"----- Рабочая сессия: ---> ",
                                            "----- Working session: ---> "};

// About box.
inline constexpr MessageText kAboutItem{"О программе ...", "About ..."};
inline constexpr MessageText kVersion{"Версия 6.0", "Version 6.0"};
inline constexpr MessageText kDescription{
    "Калькулятор выполняет математические операции с картами (гридами), таблицами данных, "
    "линиями, полигонами и числами",
    "The calculator performs mathematical operations on maps (grids), data tables, lines, "
    "polygons and numbers"};

// Kind names of the identifier-values window.
inline constexpr MessageText kKindNotChosen{"Не выбран", "Not chosen"};
inline constexpr MessageText kKindNumber{"Число", "Number"};
inline constexpr MessageText kKindGrid{"Грид", "Grid"};
inline constexpr MessageText kKindData{"Данные", "Data"};
inline constexpr MessageText kKindPolygon{"Полигон", "Polygon"};
inline constexpr MessageText kKindLines{"Линии", "Lines"};

// Progress of a long evaluation.
inline constexpr MessageText kEvaluating{"Расчет...", "Calculating..."};
inline constexpr MessageText kCancel{"Отмена", "Cancel"};

}  // namespace vellumar::ui::text
