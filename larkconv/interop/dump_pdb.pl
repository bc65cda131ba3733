#!/usr/bin/perl
# Prints what Palm::PDB reads from a record database, one fact a line: name,
# type, creator, header attributes, version, the AppInfo and SortInfo blocks
# in hex, and every record's category, attributes, unique ID and bytes in hex.
# With -memo the database is read through Palm::Memo, which also lists its
# categories and memo texts. Usage: dump_pdb.pl [-memo] FILE.pdb
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;

my $memo = @ARGV && $ARGV[0] eq '-memo' ? shift @ARGV : undef;
require Palm::Memo, Palm::Memo->import if $memo;
my ($path) = @ARGV or die "usage: dump_pdb.pl [-memo] FILE.pdb\n";

my $pdb = Palm::PDB->new;
$pdb->Load($path) or die "cannot load $path\n";
print "name: $pdb->{name}\n";
print "type: $pdb->{type}\n";
print "creator: $pdb->{creator}\n";
my @flags = grep { $pdb->{attributes}{$_} } sort keys %{ $pdb->{attributes} };
print "attributes:", (map {" $_"} @flags), "\n";
print "version: $pdb->{version}\n";
if ($memo) {
    my @names = map { "$_->{id}=$_->{name}" }
                grep { defined $_->{name} && $_->{name} ne '' } @{ $pdb->{appinfo}{categories} };
    print "categories: @names\n";
} else {
    print "appinfo: ", (defined $pdb->{appinfo} ? unpack("H*", $pdb->{appinfo}) : "none"), "\n";
}
print "sortinfo: ", (defined $pdb->{sort} ? unpack("H*", $pdb->{sort}) : "none"), "\n";
print "records: ", scalar @{ $pdb->{records} }, "\n";
for my $record (@{ $pdb->{records} }) {
    my @recflags = grep { $record->{attributes}{$_} } sort keys %{ $record->{attributes} };
    my $category = defined $record->{category} ? $record->{category} : '-';
    my $data = $memo ? $record->{data} : unpack("H*", $record->{data});
    print "record: category=$category attributes=", join(",", @recflags),
          " id=$record->{id} data=$data\n";
}
