# Opens a page of `vardlix report` in a headless Chromium through
# chromedriver and prints, as one JSON object, what a person would see:
# the bars of the timeline with their drawn heights, the rows of the table
# that show, and the same after each thing a person does to it: ticking
# types, typing, a filter set in the address, a click on an hour's bar,
# the errors-only switch, opening a long record, sorting by a column,
# the next page; and the page on a screen 400 px wide.
#
#   report_page.py PAGE TYPE TEXT ADDRESS_TEXT HOUR
#
# TYPE is the one type left ticked, TEXT what is typed into the search
# field, ADDRESS_TEXT the text of a filter given as "#text=..." instead,
# HOUR the bucket of the bar clicked ("2011-04-08 10:00").
#
# The cost of typing is counted, not timed: a burst of input events
# filters the table once, the filter touches only rows whose state
# changes (window.vardlixReport counts them), and the table's rows are
# never rebuilt (a MutationObserver counts added and removed nodes). The
# page's own timings are printed too, for the record, not to be judged.
import json
import os
import shutil
import sys
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

page, kept_type, text, address_text, hour = sys.argv[1:6]
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
    type: r.dataset.type, count: Number(r.dataset.count), height: r.getBBox().height,
    fill: r.getAttribute('fill')}))}))'''
# A long record's cells hold their text in a div, beside the button that opens it.
ROWS = '''return Array.from(document.querySelectorAll('#rows tbody tr'))
  .filter(r => r.getClientRects().length > 0)
  .map(r => Array.from(r.cells).map(c => (c.querySelector('.clip') || c).textContent))'''
COUNTS = '''return Object.fromEntries(Array.from(document.querySelectorAll('#filter label')).map(l => [
  l.querySelector('input').dataset.name || l.querySelector('input').id, l.textContent.trim()]))'''
# Filters typed in one burst: each key an input event, all before the debounce ends.
BURST = '''const search = document.getElementById('search'), work = window.vardlixReport;
const body = document.querySelector('#rows tbody');
window.rebuilt = 0;
new MutationObserver(list => list.forEach(m => { window.rebuilt += m.addedNodes.length + m.removedNodes.length; }))
  .observe(body, {childList: true, subtree: true});
const before = {runs: work.filterRuns, touched: work.rowsTouched};
for (const typed of arguments[0]) { search.value = typed; search.dispatchEvent(new Event('input')); }
window.burst = before;'''
BURST_DONE = '''const work = window.vardlixReport;
return {runs: work.filterRuns - window.burst.runs, touched: work.rowsTouched - window.burst.touched,
        rebuilt: window.rebuilt, filter_ms: work.lastFilterMs, rows: document.querySelectorAll('#rows tbody tr').length}'''
NARROW = '''const svg = document.querySelector('svg.timeline');
const labels = Array.from(svg.querySelectorAll('text')).filter(t => t.getClientRects().length > 0);
const sizes = labels.map(t => parseFloat(getComputedStyle(t).fontSize) * svg.getScreenCTM().a);
const boxes = labels.filter(t => t.classList.contains('x') && !t.classList.contains('day'))
  .map(t => t.getBoundingClientRect()).sort((a, b) => a.left - b.left);
let overlaps = 0;
for (let i = 1; i < boxes.length; ++i) if (boxes[i].left < boxes[i - 1].right) ++overlaps;
return {inner: window.innerWidth, scroll: document.documentElement.scrollWidth, smallest_label: Math.min(...sizes),
        labels: labels.length, overlaps: overlaps}'''


def settle():
    WebDriverWait(driver, 30).until(lambda d: d.execute_script('return window.vardlixReport.pending === false'))


def click(selector):
    driver.find_element(By.CSS_SELECTOR, selector).click()
    settle()


try:
    seen = {}
    driver.get(url)
    seen['title'] = driver.title
    seen['resources'] = driver.execute_script("return performance.getEntriesByType('resource').length")
    seen['bars'] = driver.execute_script(BARS)
    seen['rows'] = driver.execute_script(ROWS)
    seen['counts'] = driver.execute_script(COUNTS)
    notes = driver.find_elements(By.CSS_SELECTOR, '#records p.note')
    seen['note'] = notes[0].text if notes else ''
    seen['page_info'] = driver.find_element(By.ID, 'pageinfo').text
    driver.execute_script(BURST, [text[:n] for n in range(1, len(text) + 1)])
    settle()
    seen['burst'] = driver.execute_script(BURST_DONE)
    driver.execute_script(BURST, [''])
    settle()
    seen['burst_cleared'] = driver.execute_script(BURST_DONE)
    for box in driver.find_elements(By.CSS_SELECTOR, '#filter input.type'):
        if box.get_attribute('data-name') != kept_type:
            box.click()
    seen['by_type'] = driver.execute_script(ROWS)
    driver.find_element(By.ID, 'search').send_keys(text)
    settle()
    seen['by_type_and_text'] = driver.execute_script(ROWS)
    seen['shown'] = driver.find_element(By.ID, 'shown').text
    seen['address'] = driver.execute_script('return location.hash')
    # Another document first, so that the page loads afresh with its filter.
    driver.get('about:blank')
    driver.get(url + '#text=' + urllib.parse.quote(address_text))
    seen['from_address'] = driver.execute_script(ROWS)

    driver.get('about:blank')
    driver.get(url)
    click('svg.timeline g.bar[data-bucket="%s"]' % hour)
    seen['in_hour'] = driver.execute_script(ROWS)
    seen['hour_address'] = driver.execute_script('return location.hash')
    click('#errors')
    seen['errors_in_hour'] = driver.execute_script(ROWS)
    click('#allhours')
    seen['errors'] = driver.execute_script(ROWS)
    click('#errors')
    longs = driver.find_elements(By.CSS_SELECTOR, '#rows tbody tr.long:not([hidden])')
    if longs:
        seen['long_closed'] = longs[0].rect['height']
        longs[0].find_element(By.CSS_SELECTOR, 'button.more').click()
        seen['long_open'] = longs[0].rect['height']
    click('#rows th:nth-child(2) button')
    seen['by_type_column'] = driver.execute_script(ROWS)
    click('#rows th:nth-child(2) button')
    seen['by_type_column_down'] = driver.execute_script(ROWS)
    click('#next')
    seen['next_page'] = driver.execute_script(ROWS)
    seen['next_page_info'] = driver.find_element(By.ID, 'pageinfo').text

    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': 400, 'height': 800, 'deviceScaleFactor': 1, 'mobile': True})
    driver.get('about:blank')
    driver.get(url)
    seen['narrow'] = driver.execute_script(NARROW)
finally:
    driver.quit()
print(json.dumps(seen, ensure_ascii=False))
