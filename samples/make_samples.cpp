// Writes the two sample databases a new user can open at once: an "old"
// database of a small trading business as a legacy system kept it, and an
// empty "new" database with Chinese table and field names to migrate into.
//
//   make_samples <folder>     creates <folder>/old.db and <folder>/new.db
//
// Existing files are replaced. The rows are made by the statements below
// from fixed seeds, so every build gets the same data.
#include <sqlite3.h>

#include <cstdio>
#include <string>

namespace {

const char kOldSchema[] = R"SQL(
create table customer (
  cust_id   integer primary key autoincrement,
  name      varchar(40) not null,
  contact   varchar(20),
  phone     varchar(20),
  city      varchar(20),
  address   varchar(60),
  notes     text,
  credit    decimal(10,2),
  created   datetime
);
create table product (
  prod_id   integer primary key autoincrement,
  code      char(8) not null,
  name      varchar(50) not null,
  unit      varchar(4),
  price     currency,
  stock     integer,
  weight    real,
  discontinued boolean
);
create table orders (
  order_id   integer primary key,
  cust_id    integer not null,
  prod_id    integer not null,
  order_date date,
  quantity   integer,
  amount     decimal(12,2),
  shipped    boolean,
  remark     text
);
create view big_orders as select * from orders where amount > 5000;
)SQL";

// Name parts chosen so that combinations read like company names.
const char kOldRows[] = R"SQL(
create temp table place(i integer primary key, city text, street text);
insert into place(city, street) values
  ('上海','南京东路'),('北京','长安街'),('广州','天河路'),('深圳','深南大道'),
  ('杭州','西湖大道'),('南京','中山路'),('成都','春熙路'),('武汉','解放大道'),
  ('西安','雁塔路'),('苏州','观前街'),('天津','和平路'),('重庆','解放碑');
create temp table word(i integer primary key, w text);
insert into word(w) values
  ('华东'),('联合'),('新星'),('长城'),('东方'),('金桥'),('宏达'),('永盛'),
  ('恒通'),('大地'),('万家'),('海天'),('瑞丰'),('光明'),('远航'),('嘉禾');
create temp table kind(i integer primary key, k text);
insert into kind(k) values ('贸易有限公司'),('商行'),('百货公司'),('实业有限公司'),('电器行');
create temp table person(i integer primary key, p text);
insert into person(p) values
  ('张伟'),('王芳'),('李娜'),('刘洋'),('陈静'),('杨帆'),('赵磊'),('黄敏'),
  ('周杰'),('吴昊'),('徐丽'),('孙强'),('马超'),('朱琳'),('胡军'),('林峰');

with recursive n(i) as (select 1 union all select i + 1 from n where i < 240)
insert into customer(name, contact, phone, city, address, notes, credit, created)
select
  (select w from word where word.i = 1 + (n.i * 7) % 16) ||
    (select k from kind where kind.i = 1 + (n.i * 3) % 5),
  case when n.i % 11 = 0 then null else (select p from person where person.i = 1 + (n.i * 5) % 16) end,
  case when n.i % 9 = 0 then null
       else '0' || (20 + n.i % 70) || '-' || (60000000 + (n.i * 7919) % 39999999) end,
  (select city from place where place.i = 1 + n.i % 12),
  (select city || '市' || street || (n.i * 13 % 900 + 1) || '号' from place where place.i = 1 + n.i % 12),
  case when n.i % 7 = 0 then null
       when n.i % 5 = 0 then '老客户，付款及时。' || char(13) || char(10) || '年底对账。'
       else '' end,
  case when n.i % 13 = 0 then null else ((n.i * 3571) % 500000) / 100.0 + 1000 end,
  printf('%04d-%02d-%02d %02d:%02d:00', 2008 + n.i % 12, 1 + n.i % 12, 1 + n.i % 28,
         8 + n.i % 10, (n.i * 17) % 60)
from n;

with recursive n(i) as (select 1 union all select i + 1 from n where i < 60)
insert into product(code, name, unit, price, stock, weight, discontinued)
select
  printf('P%05d', 1000 + n.i * 37),
  (select w from word where word.i = 1 + n.i % 16) ||
    case n.i % 6 when 0 then '电饭煲' when 1 then '台灯' when 2 then '保温杯'
                 when 3 then '电风扇' when 4 then '收音机' else '热水壶' end ||
    ' 型号' || (100 + n.i),
  case n.i % 3 when 0 then '台' when 1 then '个' else '只' end,
  round(((n.i * 7877) % 90000) / 100.0 + 9.9, 2),
  case when n.i % 10 = 0 then null else (n.i * 37) % 500 end,
  ((n.i * 113) % 5000) / 1000.0 + 0.25,
  n.i % 8 = 0
from n;

with recursive n(i) as (select 1 union all select i + 1 from n where i < 600)
insert into orders(order_id, cust_id, prod_id, order_date, quantity, amount, shipped, remark)
select
  100000 + n.i,
  1 + (n.i * 31) % 240,
  1 + (n.i * 17) % 60,
  date('2019-01-01', '+' || ((n.i * 3) % 1800) || ' days'),
  1 + (n.i * 7) % 40,
  ((n.i * 104729) % 1200000) / 100.0,
  n.i % 4 <> 0,
  case when n.i % 6 = 0 then null when n.i % 10 = 0 then '加急' else '' end
from n;
)SQL";

const char kNewSchema[] = R"SQL(
create table 客户 (
  编号     integer primary key autoincrement,
  名称     varchar(30) not null,
  联系人   varchar(10),
  电话     varchar(20),
  城市     varchar(10),
  地址     varchar(40),
  备注     text,
  信用额度 decimal(12,2),
  建档日期 datetime,
  来源     varchar(10)
);
create table 产品 (
  编号     integer primary key autoincrement,
  产品代码 char(8) not null,
  产品名称 varchar(30) not null,
  单位     varchar(4),
  单价     currency,
  库存     integer,
  重量     real,
  停产     boolean
);
create table 订单 (
  订单号   integer primary key,
  客户编号 integer not null,
  产品编号 integer not null,
  下单日期 date,
  数量     integer,
  金额     decimal(12,2),
  已发货   boolean,
  备注     text
);
)SQL";

bool build(const std::string& path, const char* schema, const char* rows) {
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "make_samples: cannot create %s: %s\n", path.c_str(),
                 db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  std::string sql = std::string("begin;") + schema + (rows ? rows : "") + "commit;";
  char* err = nullptr;
  bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) == SQLITE_OK;
  if (!ok) std::fprintf(stderr, "make_samples: %s: %s\n", path.c_str(), err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples <folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  bool ok = build(folder + "old.db", kOldSchema, kOldRows) &&
            build(folder + "new.db", kNewSchema, nullptr);
  return ok ? 0 : 1;
}
