"""Stock records read from a CSV file: typed rows, a keyed lookup and a text-field test."""
import zel
import os
import sys
import numpy as np

# A 6-byte text field before an 8-byte float: numpy packs the rows without padding.
stock = np.dtype([('ticker', 'S6'), ('price', 'f8'), ('volume', 'i8')])
path = os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), 'records.csv')
table = np.genfromtxt(path, dtype=stock, delimiter=',', skip_header=1)
print('rows', len(table))

# Calling the table looks a row up by its leading field: the row's index, or -1.
print('BETA at row', table(b'BETA'), 'price', table(b'BETA').price)
print('OMEGA at row', table(b'OMEGA'))

total = 0.0
gamma_volume = 0
for i in range(len(table)):
    total += table[i]['price'] * table[i]['volume']
    if table[i]['ticker'] == b'GAMMA':
        gamma_volume = table[i]['volume']
print('value traded', total)
print('GAMMA volume', gamma_volume)

# One row at a time through a pointer into the table.
top: stock = table[0]
for i in range(len(table)):
    if table[i]['price'] > top['price']:
        top = table[i]
print('highest price', top['ticker'], top['price'])
