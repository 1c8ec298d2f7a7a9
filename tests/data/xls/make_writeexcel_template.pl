#!/usr/bin/perl
# Writes writeexcel_template.xls with Debian's libspreadsheet-writeexcel-perl: cells without ROW
# records (the writer emits ROW only for rows given a height or format) and exactly 1024 shared strings.
use strict;
use warnings;
use File::Basename qw(dirname);
use Spreadsheet::WriteExcel;

my $out = $ARGV[0] // dirname(__FILE__);
my $wb = Spreadsheet::WriteExcel->new("$out/writeexcel_template.xls") or die "cannot write: $!";
my $cell = $wb->add_format(border => 1);
my $head = $wb->add_format(border => 1, bold => 1, bg_color => 22);
my $date = $wb->add_format(border => 1, num_format => 'DD.MM.YYYY');
my $num = $wb->add_format(border => 1, num_format => '0.00');
my $title = $wb->add_format(border => 1, bold => 1);
# The writer wants formats of their own for merged ranges.
my $mtitle = $wb->add_format(border => 1, bold => 1);
my $mcell = $wb->add_format(border => 1);
my %seen;
sub text { my ($ws, $r, $c, $s, $f) = @_; $seen{$s} = 1; $ws->write_string($r, $c, $s, $f); }

for my $s (1 .. 5) {
  my $ws = $wb->add_worksheet("Blatt$s");
  $ws->set_landscape();
  $ws->set_header('&LSKOV&RBlatt &P');
  $ws->set_column(0, 0, 3);
  $ws->set_column(1, 1, 20);
  $ws->set_column(4, 54, 5);
  $ws->merge_range(0, 0, 1, 20, "Geraeteliste Blatt $s", $mtitle);
  $seen{"Geraeteliste Blatt $s"} = 1;
  text($ws, 9, $_, $_ ? "Sp" . ($_ + 1) : "Nr", $head) for 0 .. 55;
  # The writer keeps cells in the order they are written: each once, left to right.
  for my $r (10 .. 27) {
    for my $c (0 .. 55) {
      if ($c == 0) { $ws->write_number($r, $c, $r - 9, $cell); }
      elsif ($c == 4) { $ws->write_blank($r, $c, $date); }
      elsif ($c == 5) { $ws->write_blank($r, $c, $num); }
      else { $ws->write_blank($r, $c, $cell); }
    }
  }
  $ws->merge_range(29, 0, 29, 20, 'Projekt', $mtitle);
  $seen{'Projekt'} = 1;
  for my $r (30 .. 32) {
    $ws->merge_range($r, 21, $r, 40, '', $mcell);
    $ws->merge_range($r, 41, $r, 53, '', $mcell);
  }
  text($ws, 32, 54, 'Blatt von', $title);
  $ws->write_blank(32, 55, $cell);
}
# A list sheet after the five brings the string table to exactly 1024 (a multiple of 128).
my $list = $wb->add_worksheet('Listen');
my $n = 0;
while (keys(%seen) < 1024) {
  text($list, $n, 0, sprintf('Geraetetyp %04d', $n), undef);
  $list->write_number($n, 1, $n * 1.5);
  $n++;
}
$wb->close() or die "cannot close: $!";
printf "%d shared strings\n", scalar keys %seen;
