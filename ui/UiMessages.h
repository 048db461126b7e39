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

// Progress of a long evaluation, load or save.
inline constexpr MessageText kEvaluating{"Расчет...", "Calculating..."};
inline constexpr MessageText kLoading{"Загрузка файла...", "Loading the file..."};
inline constexpr MessageText kSaving{"Сохранение файла...", "Saving the file..."};
inline constexpr MessageText kCancel{"Отмена", "Cancel"};
inline constexpr MessageText kCloseWhileRunning{"Идет расчет. Прервать его и закрыть Vellumar?",
                                                "A calculation is running. Stop it and close "
                                                "Vellumar?"};

// Saving a data result over a file (%s: the file name).
inline constexpr MessageText kAppendZresQuestion{"Добавить столбец Zres в %s?",
                                                 "Add the column Zres to %s?"};
inline constexpr MessageText kReplaceQuestion{"Файл %s уже существует. Заменить его?",
                                              "The file %s already exists. Replace it?"};

// Files dropped on the window (%s: the file name).
inline constexpr MessageText kShapefileKindQuestion{"Загрузить %s как:", "Load %s as:"};
inline constexpr MessageText kAsLines{"Линии", "Lines"};
inline constexpr MessageText kAsPolygons{"Полигоны", "Polygons"};
inline constexpr MessageText kAsData{"Данные", "Data"};
inline constexpr MessageText kUnknownFileType{"Неизвестный тип файла: %s", "Unknown file type: %s"};

// Tooltips of commands.
inline constexpr MessageText kByRecordTip{
    "Вычислить табло для каждого объекта слоя: слой обозначает один объект",
    "Evaluate the display for each record of the layer, the layer standing for one record"};
inline constexpr MessageText kFailedRecords{"Объекты, для которых вычисление не удалось:",
                                            "Records whose evaluation failed:"};
inline constexpr MessageText kEvaluateTip{"Вычислить выражение табло (Ctrl+Enter)",
                                          "Evaluate the display (Ctrl+Enter)"};
inline constexpr MessageText kViewTip{"Показать результат на карте", "Show the result on a map"};

}  // namespace vellumar::ui::text
