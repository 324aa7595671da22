#!/usr/bin/perl
# Crafts the files that the report tool reads, for the browser check and the benchmark:
#   craft-files.pl image PATH pe32|pe32plus BASE SIZE [dynamic] [signed]
#       a PE file of headers only: the Magic of its width, ImageBase BASE, SizeOfImage SIZE (hex
#       or decimal), DllCharacteristics with the dynamic-base bit when asked, and a certificate
#       table's directory entry when signed
#   craft-files.pl records PATH [COPIES]
#       a repair-pending file of the records read from standard input, one per line, tab
#       separated: LOAD PREFERRED COMPONENT PROCESS OCCUPANT (LOAD "process" makes a process
#       record of COMPONENT), written COPIES times (default once)
# Other scripts load it (do FILE) for its functions image, record and field.
use strict;
use warnings;
no warnings 'portable';  # 64-bit numbers, on a 64-bit perl
use Encode qw(encode);

sub number { my $text = shift; return $text =~ /^0x/i ? hex($text) : $text + 0; }

# A text field: UTF-16LE, 261 units, zero-filled after the text.
sub field {
    my $bytes = encode("UTF-16LE", shift);
    die "text too long\n" if length($bytes) > 520;
    return $bytes . ("\0" x (522 - length($bytes)));
}

sub image {
    my ($path, $width, $base, $size, @flags) = @_;
    my %flag = map { $_ => 1 } @flags;
    my $plus = $width eq 'pe32plus';
    my $nt = 0x80;
    my $optional = $nt + 24;
    my $bytes = "\0" x ($optional + ($plus ? 240 : 224));
    substr($bytes, 0, 2) = "MZ";
    substr($bytes, 0x3C, 4) = pack("V", $nt);
    substr($bytes, $nt, 4) = "PE\0\0";
    substr($bytes, $nt + 4, 2) = pack("v", $plus ? 0x8664 : 0x14C);
    substr($bytes, $nt + 20, 2) = pack("v", $plus ? 240 : 224);
    substr($bytes, $optional, 2) = pack("v", $plus ? 0x20B : 0x10B);
    substr($bytes, $optional + ($plus ? 24 : 28), $plus ? 8 : 4) =
        $plus ? pack("Q<", number($base)) : pack("V", number($base));
    substr($bytes, $optional + 56, 4) = pack("V", number($size));
    substr($bytes, $optional + 70, 2) = pack("v", $flag{dynamic} ? 0x0040 : 0);
    my $directories = $optional + ($plus ? 108 : 92);
    substr($bytes, $directories, 4) = pack("V", 16);
    substr($bytes, $directories + 4 + 4 * 8, 8) = pack("VV", 0x1000, 0x200) if $flag{signed};
    open(my $out, '>:raw', $path) or die "$path: $!\n";
    print $out $bytes;
    close($out);
}

# One record's bytes; LOAD "process" makes a process record of COMPONENT.
sub record {
    my ($load, $preferred, $component, $process, $occupant) = @_;
    return pack("Q<3", (0xFFFFFFFF) x 3) . field($component) x 3 if $load eq 'process';
    return pack("Q<3", 0x100000, number($load), number($preferred)) .
           field($component) . field($process) . field($occupant);
}

sub records {
    my ($path, $copies) = @_;
    my $records = '';
    while (my $line = <STDIN>) {
        chomp $line;
        $records .= record(split /\t/, $line) if $line ne '';
    }
    open(my $out, '>:raw', $path) or die "$path: $!\n";
    print $out $records for 1 .. ($copies // 1);
    close($out);
}

unless (caller) {
    my $what = shift // '';
    if ($what eq 'image') { image(@ARGV); }
    elsif ($what eq 'records') { records(@ARGV); }
    else { die "usage: craft-files.pl image|records ...\n"; }
}
1;
