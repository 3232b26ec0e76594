# Opens a page of `vardlix report` in a headless Chromium through
# chromedriver and prints, as one JSON object, what a person would see:
# the bars of the timeline with their drawn heights, the rows of the table
# that show, and the same after a filter set by clicking and typing, and
# after one set in the address.
#
#   report_page.py PAGE TYPE TEXT ADDRESS_TEXT
#
# TYPE is the one type left ticked, TEXT what is typed into the search
# field, ADDRESS_TEXT the text of a filter given as "#text=..." instead.
import json
import os
import shutil
import sys
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

page, kept_type, text, address_text = sys.argv[1:5]
url = 'file://' + urllib.parse.quote(os.path.abspath(page))

options = webdriver.ChromeOptions()
options.binary_location = shutil.which('chromium') or ''
for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
                 '--window-size=1200,900'):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service(executable_path=shutil.which('chromedriver')), options=options)

BARS = '''return Array.from(document.querySelectorAll('svg.timeline g.bar')).map(g => ({
  bucket: g.dataset.bucket, total: Number(g.dataset.total), height: g.getBBox().height,
  segments: Array.from(g.querySelectorAll('rect')).map(r => ({
    type: r.dataset.type, count: Number(r.dataset.count), height: r.getBBox().height}))}))'''
ROWS = '''return Array.from(document.querySelectorAll('#rows tbody tr'))
  .filter(r => r.getClientRects().length > 0)
  .map(r => Array.from(r.cells).map(c => c.textContent))'''

try:
    seen = {}
    driver.get(url)
    seen['title'] = driver.title
    seen['resources'] = driver.execute_script("return performance.getEntriesByType('resource').length")
    seen['bars'] = driver.execute_script(BARS)
    seen['rows'] = driver.execute_script(ROWS)
    seen['note'] = driver.find_element(By.CSS_SELECTOR, '#records p.note').text
    for box in driver.find_elements(By.CSS_SELECTOR, '#filter input[type=checkbox]'):
        if box.get_attribute('data-name') != kept_type:
            box.click()
    seen['by_type'] = driver.execute_script(ROWS)
    driver.find_element(By.ID, 'search').send_keys(text)
    seen['by_type_and_text'] = driver.execute_script(ROWS)
    seen['shown'] = driver.find_element(By.ID, 'shown').text
    seen['address'] = driver.execute_script('return location.hash')
    # Another document first, so that the page loads afresh with its filter.
    driver.get('about:blank')
    driver.get(url + '#text=' + urllib.parse.quote(address_text))
    seen['from_address'] = driver.execute_script(ROWS)
finally:
    driver.quit()
print(json.dumps(seen, ensure_ascii=False))
