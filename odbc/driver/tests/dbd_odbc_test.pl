#!/usr/bin/perl
# Perl DBD::ODBC over the driver, registered by a private unixODBC
# configuration: statements with bound parameters, fetched values, and the
# catalog methods with their rows compared column by column.
#
#   perl dbd_odbc_test.pl <path of libKIVODBC.so> <scratch folder>
use strict;
use warnings;

use DBI;
use File::Basename qw(dirname);
use File::Path qw(make_path remove_tree);
use Test::More tests => 23;

my ($driver, $scratch) = @ARGV;
die "usage: perl dbd_odbc_test.pl <driver library> <scratch folder>\n" unless defined $scratch && -f $driver;

# A fresh folder of free tables and the driver known by a name of its own.
remove_tree($scratch);
my $data = "$scratch/data";
make_path($data);
write_file("$scratch/odbcinst.ini", "[KIVODBC Perl]\nDriver=$driver\n");
write_file("$scratch/odbc.ini", "");
$ENV{ODBCSYSINI} = $scratch;
$ENV{ODBCINI} = "$scratch/odbc.ini";

sub write_file {
    my ($path, $text) = @_;
    open(my $out, '>', $path) or die "$path: $!";
    print {$out} $text;
    close($out) or die "$path: $!";
}

sub connect_to {
    my ($directory, $user, $password) = @_;
    return DBI->connect("dbi:ODBC:DRIVER={KIVODBC Perl};DataDirectory=$directory", $user, $password,
                        {RaiseError => 1, PrintError => 0, AutoCommit => 1});
}

# The rows of a statement (or an array of rows): each its values joined by
# '|', undef shown as <null>, blanks that pad a value dropped.
sub rows_of {
    my ($rows, @columns) = @_;
    $rows = $rows->fetchall_arrayref if ref($rows) ne 'ARRAY';
    my @texts;
    for my $row (@$rows) {
        my @picked = @columns ? @{$row}[@columns] : @$row;
        push @texts, join('|', map { defined $_ ? ($_ =~ s/ +$//r) : '<null>' } @picked);
    }
    return \@texts;
}

# ---- Statements on free tables

my $dbh = connect_to($data, '', '');
ok($dbh, 'connects by the driver name of a private odbcinst.ini');

is($dbh->do('CREATE TABLE parts (code CHAR(8), qty INTEGER, price NUMERIC(8,2))'), -1,
   'do makes a table (that counts no rows)');
$dbh->do('CREATE TABLE lines (partcode CHAR(8), n INTEGER)');

my $insert = $dbh->prepare('INSERT INTO parts (code, qty, price) VALUES (?, ?, ?)');
for my $row (['A', 5, '1.50'], ['B', 12, '2.25'], ['C', 20, '10.00']) {
    $insert->bind_param($_ + 1, $row->[$_]) for 0 .. 2;
    $insert->execute;
}
is($insert->rows, 1, 'each execute inserts one row');

my $select = $dbh->prepare('SELECT code, qty, price FROM parts WHERE qty > ? ORDER BY qty');
$select->bind_param(1, 6);
$select->execute;
is_deeply($select->{NAME}, ['code', 'qty', 'price'], 'result column names');
is_deeply(rows_of($select), ['B|12|2.25', 'C|20|10.00'], 'rows selected by a bound parameter');

$select->bind_param(1, 100);
$select->execute;
is_deeply(rows_of($select), [], 'executed again with another value: no rows');

is($dbh->do("UPDATE parts SET qty = 7 WHERE code = 'A'"), 1, 'do without parameters reports the rows changed');
is_deeply($dbh->selectrow_arrayref("SELECT qty FROM parts WHERE code = 'A'"), [7], 'the change is there');
$dbh->do("INSERT INTO lines (partcode, n) VALUES ('B', 1)");

# ---- Catalog methods on free tables

is_deeply(rows_of($dbh->table_info(undef, undef, 'p%', undef)), ["$data|<null>|parts|TABLE|<null>"],
          'table_info');
is_deeply($dbh->table_info(undef, undef, '%', undef)->{NAME},
          ['QUALIFIERNAME', 'OWNERNAME', 'TABLENAME', 'TYPENAME', 'REMARKS'], 'table_info names its columns');

is_deeply(rows_of($dbh->column_info(undef, undef, 'parts', '%'), 2 .. 10, 16, 17),
          ['parts|code|1|CHAR|8|8|0|<null>|1|1|YES', 'parts|qty|4|INTEGER|10|4|0|10|1|2|YES',
           'parts|price|2|NUMERIC|8|10|2|10|1|3|YES'],
          'column_info');

is_deeply(rows_of($dbh->statistics_info(undef, undef, 'parts', 0, 1), 2, 3, 5, 6, 7, 8, 10),
          ['parts|<null>|<null>|0|<null>|<null>|3'], 'statistics_info: a table without indexes has its count row');
is_deeply(rows_of($dbh->primary_key_info(undef, undef, 'parts')), [], 'primary_key_info: free tables have none');
is_deeply(rows_of($dbh->foreign_key_info(undef, undef, 'parts', undef, undef, undef)), [],
          'foreign_key_info: free tables have no relations');

my $types = $dbh->type_info_all;
my %index = %{$types->[0]};
is_deeply([sort { $index{$a} <=> $index{$b} } keys %index],
          ['TYPENAME', 'TYPE', 'PRECISION', 'PREFIX', 'SUFFIX', 'PARAMS', 'NULLABLE', 'CASESENSITIVE', 'SEARCHABLE',
           'UNSIGNED', 'MONEY', 'AUTOINCREMENT', 'LOCALTYPENAME', 'MINSCALE', 'MAXSCALE', 'SQL_DATA_TYPE',
           'SQL_DATETIME_SUB', 'NUM_PREC_RADIX', 'INTERVAL_PRECISION'],
          'type_info_all: the column index');
my @types = @{$types}[1 .. $#$types];
is_deeply(rows_of([grep { $_->[0] =~ /^(LOGICAL|CHAR|INTEGER|DATE)$/ } @types], 0 .. 3, 6, 15, 16),
          ['LOGICAL|-7|1|<null>|1|-7|<null>', 'CHAR|1|65535|\'|1|1|<null>', 'INTEGER|4|10|<null>|1|4|<null>',
           'DATE|91|10|<null>|1|9|1'],
          'type_info_all: rows of the types');
$dbh->disconnect;

# ---- A dictionary over the two tables: an index, a primary key, a relation

my $kivdict = dirname($driver) . '/../bin/kivdict';
write_file("$scratch/shop.txt", <<'EOF');
index parts.kdt BYCODE code unique
index parts.kdt BYQTY qty
user KIVSYS kiv
table parts parts.kdt
table lines lines.kdt
property parts 202 BYCODE
relation R_LINE_PART parts code lines partcode cascade restrict
EOF
is(system($kivdict, "$data/shop.kdd", "$scratch/shop.txt"), 0, 'the dictionary is written');

$dbh = connect_to("$data/shop.kdd", 'KIVSYS', 'kiv');
my $one = $dbh->prepare('SELECT qty FROM parts WHERE code = ?');
$one->bind_param(1, 'C');
$one->execute;
is_deeply(rows_of($one), ['20'], 'a select on the dictionary connection');

is_deeply(rows_of($dbh->table_info(undef, undef, '%', undef), 2, 3),
          ['parts|TABLE', 'lines|TABLE'], 'table_info lists the dictionary\'s tables');
# DBD::ODBC asks for the unique indexes whatever is passed.
is_deeply(rows_of($dbh->statistics_info(undef, undef, 'parts', 1, 1), 2, 3, 5, 6, 7, 8, 9, 10),
          ['parts|<null>|<null>|0|<null>|<null>|<null>|3', 'parts|0|BYCODE|3|1|code|A|<null>'],
          'statistics_info: the unique index is unique');
is_deeply(rows_of($dbh->primary_key_info(undef, undef, 'parts')), ['<null>|<null>|parts|code|1|BYCODE'],
          'primary_key_info');
my @relation = ('<null>|<null>|parts|code|<null>|<null>|lines|partcode|1|0|1|R_LINE_PART|BYCODE');
is_deeply(rows_of($dbh->foreign_key_info(undef, undef, 'parts', undef, undef, undef)), \@relation,
          'foreign_key_info by the primary-key table');
is_deeply(rows_of($dbh->foreign_key_info(undef, undef, undef, undef, undef, 'lines')), \@relation,
          'foreign_key_info by the foreign-key table');
$dbh->disconnect;
