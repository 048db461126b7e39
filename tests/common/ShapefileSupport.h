#pragma once

#include <gtest/gtest.h>
#include <shapefil.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace vellumar::testing {

// One shape as a test writes it through shapelib: parts (vertex starts) and vertices.
struct Shape {
  std::vector<int> parts;
  std::vector<double> x, y, z, m;
};

// A DBF field with one text per record ("N" fields take numbers written as texts): text fields
// 20 bytes wide, numbers 12 wide with 3 decimals.
struct Field {
  std::string name;
  DBFFieldType type;
  std::vector<std::string> values;
};

// Writes a shapefile of the given type through shapelib itself, independently of the code
// under test: one record per shape, with the fields' values.
inline void writeShapefile(const std::string& path, int type, const std::vector<Shape>& shapes,
                           const std::vector<Field>& fields) {
  SHPHandle shp = SHPCreate(path.c_str(), type);
  DBFHandle dbf = DBFCreate(path.c_str());
  ASSERT_NE(shp, nullptr);
  ASSERT_NE(dbf, nullptr);
  for (const Field& field : fields) {
    const bool text = field.type == FTString;
    ASSERT_GE(DBFAddField(dbf, field.name.c_str(), field.type, text ? 20 : 12, text ? 0 : 3), 0);
  }
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const Shape& s = shapes[i];
    SHPObject* object = SHPCreateObject(
        type, -1, static_cast<int>(s.parts.size()), s.parts.empty() ? nullptr : s.parts.data(),
        nullptr, static_cast<int>(s.x.size()), s.x.data(), s.y.data(),
        s.z.empty() ? nullptr : s.z.data(), s.m.empty() ? nullptr : s.m.data());
    ASSERT_GE(SHPWriteObject(shp, -1, object), 0);
    SHPDestroyObject(object);
    for (int f = 0; f < static_cast<int>(fields.size()); ++f) {
      const std::string& value = fields[f].values[i];
      const int r = static_cast<int>(i);
      fields[f].type == FTString ? DBFWriteStringAttribute(dbf, r, f, value.c_str())
                                 : DBFWriteDoubleAttribute(dbf, r, f, std::stod(value));
    }
  }
  SHPClose(shp);
  DBFClose(dbf);
}

// A record as shapelib reads it back: its shape type, part starts, vertices, and every DBF field
// read as a number, with the fields' names.
struct ShapeRecord {
  int type = -1;
  std::vector<int> parts;
  std::vector<double> x, y;
  std::vector<double> numbers;
  std::vector<std::string> fields;
  // The number of the field of that name; NaN when there is none.
  double number(const std::string& name) const {
    for (std::size_t f = 0; f < fields.size() && f < numbers.size(); ++f) {
      if (fields[f] == name) return numbers[f];
    }
    return std::nan("");
  }
};

// The records of a shapefile and its DBF as shapelib reads them; none when either cannot be
// opened or their record counts differ.
inline std::vector<ShapeRecord> readShapefile(const std::string& path) {
  std::vector<ShapeRecord> records;
  SHPHandle shp = SHPOpen(path.c_str(), "rb");
  DBFHandle dbf = DBFOpen(path.c_str(), "rb");
  int count = 0;
  if (shp != nullptr) SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
  if (shp != nullptr && dbf != nullptr && DBFGetRecordCount(dbf) == count) {
    for (int r = 0; r < count; ++r) {
      SHPObject* shape = SHPReadObject(shp, r);
      if (shape == nullptr) break;
      ShapeRecord& record = records.emplace_back();
      record.type = shape->nSHPType;
      record.parts.assign(shape->panPartStart, shape->panPartStart + shape->nParts);
      record.x.assign(shape->padfX, shape->padfX + shape->nVertices);
      record.y.assign(shape->padfY, shape->padfY + shape->nVertices);
      SHPDestroyObject(shape);
      for (int f = 0; f < DBFGetFieldCount(dbf); ++f) {
        char name[XBASE_FLDNAME_LEN_READ + 1] = {};
        DBFGetFieldInfo(dbf, f, name, nullptr, nullptr);
        record.fields.emplace_back(name);
        record.numbers.push_back(DBFReadDoubleAttribute(dbf, r, f));
      }
    }
  }
  if (shp != nullptr) SHPClose(shp);
  if (dbf != nullptr) DBFClose(dbf);
  return records;
}

// A DBF field: its declaration (native type, width, decimals) and one text per record, as shapelib
// reads it without the blanks that pad it ("" for a NULL).
struct DeclaredField {
  std::string name;
  char type;
  int width, decimals;
  std::vector<std::string> values;
  bool operator==(const DeclaredField&) const = default;
};

// The fields of a DBF: each one in order, and each one's texts by its name; none when it cannot
// be opened.
struct DbfTable {
  std::vector<std::string> names;
  std::vector<DeclaredField> fields;
  std::map<std::string, std::vector<std::string>> columns;
};
inline DbfTable readDbf(const std::string& dbfPath) {
  DbfTable table;
  DBFHandle dbf = DBFOpen(dbfPath.c_str(), "rb");
  if (dbf == nullptr) return table;
  for (int j = 0; j < DBFGetFieldCount(dbf); ++j) {
    char name[XBASE_FLDNAME_LEN_READ + 1] = {};
    DeclaredField& field = table.fields.emplace_back();
    DBFGetFieldInfo(dbf, j, name, &field.width, &field.decimals);
    field.name = name;
    field.type = DBFGetNativeFieldType(dbf, j);
    for (int r = 0; r < DBFGetRecordCount(dbf); ++r) {
      std::string text = DBFIsAttributeNULL(dbf, r, j) ? "" : DBFReadStringAttribute(dbf, r, j);
      text.erase(0, text.find_first_not_of(' '));
      field.values.push_back(text.erase(text.find_last_not_of(' ') + 1));
    }
    table.names.push_back(field.name);
    table.columns[field.name] = field.values;
  }
  DBFClose(dbf);
  return table;
}

}  // namespace vellumar::testing
