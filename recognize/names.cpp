#include "names.h"

#include <QStringList>

namespace Recognize::Names {

namespace {

const QString& surnames() {
    static const QString s = QString::fromUtf8(
        "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程"
        "苏魏吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛"
        "郝龚邵万钱严覃武戴莫孔向汤常温康施文牛樊葛邢安齐易乔伍庞颜倪庄聂章鲁岳翟殷詹申欧耿关兰"
        "焦俞左柳甘祝包宁尚符舒阮柯纪梅童凌毕单季裴霍涂成苗谷盛曲翁冉骆蓝路游辛靳管柴蒙鲍华喻祁"
        "蒲房滕屈饶解牟艾尤阳时穆农司卓古吉缪简车项连芦麦褚娄窦戚岑景党宫费卜冷晏席卫米柏宗瞿桂"
        "全佟应臧闵苟邬边卞姬师和仇栾隋商刁沙荣巫寇桑郎甄丛仲虞敖巩明佘池查麻苑迟邝慕诸皇令"
        // Rare ones, which a reader tends to take for a common character.
        "冼禤郗亓綦蒯隗逯昝笪郜缑鄢酆晁井暴蔺隆沃厍阚逄勾钭郦亢况后有琴");
    return s;
}

const QStringList& compoundSurnames() {
    static const QStringList s = {
        QStringLiteral("欧阳"), QStringLiteral("司马"), QStringLiteral("诸葛"),
        QStringLiteral("上官"), QStringLiteral("慕容"), QStringLiteral("司徒"),
        QStringLiteral("东方"), QStringLiteral("皇甫"), QStringLiteral("令狐"),
        QStringLiteral("夏侯"), QStringLiteral("尉迟"), QStringLiteral("公孙"),
        QStringLiteral("端木"), QStringLiteral("宇文"), QStringLiteral("长孙"),
        QStringLiteral("独孤"), QStringLiteral("呼延"), QStringLiteral("澹台"),
        QStringLiteral("万俟"), QStringLiteral("闻人"), QStringLiteral("南宫"),
        QStringLiteral("西门"), QStringLiteral("百里"), QStringLiteral("东郭"),
        QStringLiteral("司空"), QStringLiteral("鲜于"), QStringLiteral("赫连"),
        QStringLiteral("轩辕"), QStringLiteral("钟离"), QStringLiteral("宗政"),
        QStringLiteral("濮阳"), QStringLiteral("申屠"), QStringLiteral("太史"),
        QStringLiteral("拓跋"), QStringLiteral("公冶"), QStringLiteral("第五")};
    return s;
}

// Characters frequent in given names.
const QString& givenNameCharacters() {
    static const QString s = QString::fromUtf8(
        "伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超霞平刚桂华玉兰萍红玲飞鹏辉斌宇浩凯健俊帆帅旭宁龙"
        "林欢阳建国志文海波晓东佳欣婷雪琳晨博思雨嘉梓涵睿泽轩慧新立春永金德荣成振亮燕子一梅丹晶"
        "瑶颖倩琪璐露莉美婉妍蕾薇菲萱悦怡彤瑞琦晗昊宸宏毅鑫鸿峰岩松柏楠航瀚辰翔鹤皓然诚信义仁礼"
        "智安康福贵祥庆喜乐宝珍珠翠凤娥云月星光晴清源淼沛洁润江河川山岚森树竹菊莲荷芬芸茹莹蓉菁"
        "萌蕊蓓家庭良善忠孝勤俭和定泰兴旺盛昌隆富耀煌灿烨炜焕熙照煜炎坤培基城均圣恒惠怀念恩慈爱"
        "心意达远进迪逸遥道运通昀昕晖景晟暄曦容实宽寒寿尧展峻岳崇嵩巍希年广庚延弘彬彦征徽忆恬悠"
        "惜戈战才承抒敬方旋日昂昭晋晏曼朋朗望朝杉果柔格桐梁楷歆正武毓民汉沐沫泉泓泳洪洲流淑深渊"
        "溪滨潇潮澄澜灵炳烁熠牧献玮环珊珏琛琴瑛瑜瑾璇甜生田男畅白百盈益真瞻石硕祺禄秋程稳穗竞笑"
        "笛筠策紫纯素绍绮维缘群羽翊育胜舒艺芊芝芮苇若茜茵莎蒙蓝虹蝶衡裕言誉诗语诺谦豪贝贤赫越跃"
        "路迎郁钰铭锋锐锦长闻雅雯霖青靖韵顺飘馨驰骏鸣麟黎亚丰乐云仪伦佩侠保倩兵凡凤刚利力勋卫友"
        "双发吉君启和喆坚培夫奇如妮姗娇婕媛子孟季学宜宪寅少尚川巧帝师干庆康彩德忠恺惟成才振捷敏"
        "斐旺昆晓曜朵杭杨来松枫柳栋树桦梦森楠欧正毅江沁沙治泽洁津浦涌淳渝溢滔漫瀚烈焱煦燃爽玄"
        "珂琼瑗璋琰生甫略登皎盛眉睿知秦稷章端笙筱纪继绪缨美羚翰耘聪肖胤艾芙芷苗茂荃莉菡萱蔚蕙"
        "虎西观诗谊豫贺资赞辛迅逊邦郎醇铁银镇阔陶隽雁雄雷震霏韬顾颂风香骁魁鸥麒"
        // Rarer ones parents like: outside the few thousand commonest characters.
        "垚彧堃玥昶珺璟翀旻芃婧妤琨祎玙禛煊晔玺瑄琬馥湉沅潼骞弈奕珩琤蓁铄锟镕懿韫珞淇澍璨喆");
    return s;
}

} // namespace

bool hasSurname(const QString& name) {
    if (name.isEmpty())
        return false;
    for (const QString& c : compoundSurnames()) {
        if (name.startsWith(c))
            return true;
    }
    return surnames().contains(name[0]);
}

bool isSurnameCharacter(QChar c) {
    if (surnames().contains(c))
        return true;
    for (const QString& s : compoundSurnames()) {
        if (s[0] == c)
            return true;
    }
    return false;
}

QString surnameCharacters() {
    QString all = surnames();
    for (const QString& s : compoundSurnames()) {
        if (!all.contains(s[0]))
            all += s[0];
    }
    return all;
}

bool isGivenNameCharacter(QChar c) {
    return givenNameCharacters().contains(c);
}

} // namespace Recognize::Names
