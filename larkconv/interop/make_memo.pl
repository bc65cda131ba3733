#!/usr/bin/perl
# Writes a memo database with Palm::Memo: three categories in its AppInfo
# block and three memos with categories, a private flag and unique IDs: one
# line each, or with "multiline" a title line and a body of several lines, the
# way memos are mostly written; or with "accented" texts in code page 1252,
# as a Western device keeps them.
# Usage: make_memo.pl OUT.pdb [multiline|accented]
use strict;
use warnings;
use Palm::PDB;
use Palm::Memo;

my ($path, $form) = @ARGV or die "usage: make_memo.pl OUT.pdb [multiline|accented]\n";
my $pdb = Palm::Memo->new;
$pdb->{name} = "Interop Memos";
$pdb->addCategory("Business");
$pdb->addCategory("Personal");
$pdb->addCategory("Quotes");

my @memos = (
    [1, 0, "Call the printer about the brochure"],
    [2, 1, "Gift ideas: book, scarf, \"good\" pen"],
    [3, 0, "Well begun, half done"],
);
@memos = (
    [1, 0, "Printer\nCall about the brochure\n- 500 copies, \"glossy\"\n- by Friday"],
    [2, 1, "Gifts\n\nbook, scarf\r\npen\n"],
    [3, 0, "\"Quotes\"\nWell begun,\nhalf done"],
) if ($form // "") eq "multiline";
@memos = (
    [1, 0, "Caf\xe9 cr\xe8me br\xfbl\xe9e, \x80 4,50"],
    [2, 1, "Gr\xfc\xdfe aus K\xf6ln\n\x93Se\xf1or\x94 \x85 na\xefve \xa9"],
    [3, 0, "\x81\x8d\x8f\x90\x9d unassigned, \"quoted\""],
) if ($form // "") eq "accented";
for my $memo (@memos) {
    my ($category, $private, $text) = @$memo;
    my $record = $pdb->append_Record;
    $record->{data} = $text;
    $record->{category} = $category;
    $record->{attributes}{private} = 1 if $private;
}
$pdb->Write($path) or die "cannot write $path\n";
