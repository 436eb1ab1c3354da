#include "fieldmap.h"

const std::array<FieldMapEntry, 24> kFieldMap = {{
    {"姓名", "Edit1"},      {"单位", "Edit2"},         {"部门", "Edit3"},
    {"职务", "Edit4"},      {"职称", "Edit5"},         {"生日", "Edit16"},
    {"专业", "Edit6"},      {"学历", "ComboBox1"},     {"毕业院校", "Edit7"},
    {"毕业日期", "Edit18"}, {"工作电话", "Edit8"},     {"分机", "Edit9"},
    {"手机", "Edit19"},     {"家庭电话", "Edit10"},    {"传真", "Edit20"},
    {"OICQ", "Edit11"},     {"MSN", "Edit12"},         {"E-mail", "Edit13"},
    {"主页", "Edit14"},     {"工作地址", "Edit15"},    {"工作邮编", "MaskEdit4"},
    {"家庭地址", "Edit17"}, {"家庭邮编", "MaskEdit5"}, {"备注", "Memo1"},
}};

const std::array<const char*, 26> kCardColumns = {
    "ID",       "姓名",     "单位",     "部门",     "职务",     "职称", "生日",
    "专业",     "学历",     "毕业院校", "毕业日期", "工作电话", "分机", "传真",
    "手机",     "家庭电话", "OICQ",     "MSN",      "E-mail",   "主页", "工作地址",
    "工作邮编", "家庭地址", "家庭邮编", "备注",     "添加日期",
};

const std::array<const char*, 23> kDetailColumns = {
    "姓名",     "单位",     "部门",     "职务",     "职称",     "专业",     "学历", "毕业院校",
    "毕业日期", "工作电话", "分机",     "手机",     "传真",     "家庭电话", "OICQ", "MSN",
    "E-mail",   "主页",     "工作地址", "工作邮编", "家庭地址", "家庭邮编", "备注",
};

const std::array<const char*, 22> kSearchFields = {
    "姓名",     "生日",     "单位",     "部门",     "职务",     "职称",     "专业", "学历",
    "毕业院校", "毕业日期", "工作电话", "分机",     "手机",     "家庭电话", "OICQ", "MSN",
    "E-mail",   "主页",     "工作地址", "工作邮编", "家庭地址", "家庭邮编",
};
