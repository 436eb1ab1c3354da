#pragma once

#include <QString>

#include <array>

/// The 24 written columns of a card, in the order they are stored and loaded.
enum class Field {
    Name,
    Company,
    Department,
    Position,
    Title,
    Birthday,
    Major,
    Education,
    School,
    GraduationDate,
    WorkPhone,
    Extension,
    Mobile,
    HomePhone,
    Fax,
    Oicq,
    Msn,
    Email,
    Homepage,
    WorkAddress,
    WorkPostcode,
    HomeAddress,
    HomePostcode,
    Notes,
};

constexpr int kFieldCount = 24;

/// The written columns in field order.
extern const std::array<Field, kFieldCount> kFields;
/// The phone numbers, whose digits the quick find reads apart from the rest.
constexpr std::array<Field, 5> kPhoneFields = {Field::WorkPhone, Field::Extension, Field::Mobile,
                                               Field::HomePhone, Field::Fax};

/// A field's position in field order.
constexpr int indexOf(Field field) {
    return int(field);
}
/// The columns of table zl that the fields are stored in, in field order, UTF-8.
constexpr std::array<const char*, kFieldCount> kColumnNames = {
    "姓名",     "单位",     "部门",     "职务",     "职称",     "生日",     "专业",     "学历",
    "毕业院校", "毕业日期", "工作电话", "分机",     "手机",     "家庭电话", "传真",     "OICQ",
    "MSN",      "E-mail",   "主页",     "工作地址", "工作邮编", "家庭地址", "家庭邮编", "备注",
};
/// The name of the field's column in table zl, UTF-8.
constexpr const char* columnName(Field field) {
    return kColumnNames[std::size_t(field)];
}

/// The same as text, e.g. "姓名".
QString columnText(Field field);

/// The 24 written columns of one card, in field order.
struct Card {
    std::array<QString, kFieldCount> values;

    /// Position of a written column in field order, -1 when it is not one.
    static int indexOf(const QString& column);

    QString value(const QString& column) const;
    QString& operator[](Field field) { return values[std::size_t(field)]; }
    const QString& operator[](Field field) const { return values[std::size_t(field)]; }
    /// Sets a written column; a name that is not one is ignored.
    void setValue(const QString& column, const QString& text);
    bool operator==(const Card& other) const { return values == other.values; }
    bool operator!=(const Card& other) const { return values != other.values; }
};
